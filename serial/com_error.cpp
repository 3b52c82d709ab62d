#include "serial/com_error.h"

#include <array>

namespace qarn2::serial {
namespace {

constexpr std::array<const char*, 22> kMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
};

std::string MessageOf(int code, int system_error) {
  std::string message = ComErrorText(code);
  if (system_error != -1) message += " (win error code: " + std::to_string(system_error) + ")";
  return message;
}

}  // namespace

const char* ComErrorText(int code) {
  return code > 0 && code < static_cast<int>(kMessages.size()) ? kMessages[code] : "Unknown error";
}

EComPort::EComPort(int code, int system_error)
    : std::runtime_error(MessageOf(code, system_error)),
      ErrorCode(code),
      SystemErrorCode(system_error) {}

void RaiseComError(int code, int system_error) {
  // Codes without a system error number never carry one.
  if (code == kComAsyncParam || code == kComSyncMethod) system_error = -1;
  throw EComPort(code, system_error);
}

}  // namespace qarn2::serial
