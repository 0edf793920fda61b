// No mail client interfaces in the native builds: every attempt fails as "not available".
#include "../detail/EMailApi_p.h"

namespace email {

bool MapiSend(const std::vector<std::string>&, const std::string&, const std::string&,
              const std::vector<TMapiAttachment>&, bool, std::string& failure) {
  failure = "Cannot open the MAPI dll.";
  return false;
}

std::string MailtoCommand() { return std::string(); }

bool RunMailClient(const std::string&, std::string& failure) {
  failure = "No mail client can be started here.";
  return false;
}

}  // namespace email
