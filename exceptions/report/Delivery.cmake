# Report delivery: sockets and the mail-exchanger lookup, SMTP and MIME, WinInet HTTP and FTP
# upload, the tracker senders, Simple MAPI and mailto.
list(APPEND report_sources
  EBugTrackers.cpp
  EDeliverySupport.cpp
  EHtmlForms.cpp
  EMail.cpp
  EHttp.cpp
  ESmtp.cpp
  ESockets.cpp)
list(APPEND report_win32_sources
  win32/EDeliveryPlatform.cpp
  win32/EMailApi.cpp
  win32/ESocketApi.cpp
  win32/EWinInetApi.cpp)
list(APPEND report_native_sources
  posix/EDeliveryPlatform.cpp
  posix/EMailApi.cpp
  posix/ESocketApi.cpp
  posix/EWinInetApi.cpp)
list(APPEND report_win32_libs advapi32 user32)
