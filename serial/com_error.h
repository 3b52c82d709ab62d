#pragma once

#include <stdexcept>
#include <string>

namespace qarn2::serial {

// Codes of the component's messages.
enum ComErrorCode {
  kComOpen = 1,           // "Unable to open com port"
  kComWrite = 2,          // "WriteFile function failed"
  kComRead = 3,           // "ReadFile function failed"
  kComAsyncParam = 4,     // "Invalid Async parameter"
  kComPurge = 5,          // "PurgeComm function failed"
  kComAsyncStatus = 6,
  kComSetState = 7,       // "SetCommState function failed"
  kComTimeouts = 8,       // "SetCommTimeouts failed"
  kComSetupComm = 9,      // "SetupComm function failed"
  kComClearComm = 10,     // "ClearCommError function failed"
  kComModemStatus = 11,   // "GetCommModemStatus function failed"
  kComEscapeComm = 12,    // "EscapeCommFunction function failed"
  kComTransmitChar = 13,
  kComSyncMethod = 14,    // "Cannot set SyncMethod while connected"
  kComEnumPorts = 15,
  kComStoreSettings = 16,
  kComLoadSettings = 17,
  kComRegister = 18,
  kComLedState = 19,
  kComWaitEventThread = 20,
  kComWaitEvent = 21,
};

// The message of `code` alone (codes 1..21).
const char* ComErrorText(int code);

// A failure of the serial port. The message is the code's text followed by
// " (win error code: N)" with the operating system's error number (errno on this
// system); codes 4 and 14 have no error number (-1) and the text alone.
class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int system_error);

  int ErrorCode;
  int SystemErrorCode;
};

// Throws EComPort(code, system_error).
[[noreturn]] void RaiseComError(int code, int system_error);

}  // namespace qarn2::serial
