// The socket calls the client socket makes, one implementation per platform: WinSock bound by
// name at run time (win32/), BSD sockets for the native builds (posix/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TEmberSockAddr;

namespace esock {

// Loads and starts the library once; raises EEmberFuncNotFoundError for a missing function.
void Startup();
void Cleanup();
// -1 when no socket could be made; `type` 1 stream, 2 datagram.
intptr_t Open(int32_t type);
// False when closing failed (the error is in LastError).
bool Close(intptr_t handle);
// The first IPv4 address of the host in network order as 4 bytes; false when unresolved.
bool Resolve(const std::string& host, uint8_t address[4]);
uint16_t HostToNet(uint16_t value);
// No asynchronous notification, blocking mode.
void MakeBlocking(intptr_t handle);
bool Connect(intptr_t handle, const TEmberSockAddr& address);
// Byte counts, -1 on an error.
int32_t Send(intptr_t handle, const void* buffer, int32_t length);
int32_t Receive(intptr_t handle, void* buffer, int32_t length);
int32_t Available(intptr_t handle);
// Waits up to `milliseconds` until the socket can be read (data, the peer's close or an error
// waits there); false when the time passed first.
bool WaitReadable(intptr_t handle, uint32_t milliseconds);
int32_t LastError();
// The error could go away when retried (WSAEWOULDBLOCK).
bool IsWouldBlock(int32_t code);
std::string ErrorText(int32_t code);
// The computer's host name.
std::string LocalHostName();
// The DNS servers the system is configured with, in order; may be empty.
std::vector<std::string> SystemDnsServers();

}  // namespace esock
