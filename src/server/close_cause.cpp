#include "server/close_cause.h"

namespace palisim {

const char* close_report_message(CloseCause cause) {
  switch (cause) {
    case CloseCause::kSocketError:
      return "General socket error";
    case CloseCause::kPeerClosed:
    case CloseCause::kReadFailed:
    case CloseCause::kOverlong:
      return "Read error";
    case CloseCause::kWriteFailed:
      return "Write error";
    case CloseCause::kNone:
    case CloseCause::kInjected:
    case CloseCause::kIdle:
    case CloseCause::kStopped:
    case CloseCause::kTlsRefused:
    case CloseCause::kTlsStalled:
    case CloseCause::kWrongPort:
      break;
  }
  return nullptr;
}

}  // namespace palisim
