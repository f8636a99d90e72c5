// The framework's four per-thread values. They are built at start-up in this order, so their
// thread-object indices are 0 to 3.
#pragma once

#include <cstdint>

#include "ThreadObject.h"

namespace Zelkor {

class CMessageHandler;

// State of error reporting on this thread.
struct CErrorInfo {
    bool IsReporting = false;
    bool Reserved = false;
};

// Module initialisation and termination on this thread.
struct CZelkorThreadData {
    bool ErrorShown = false;         // a failure was shown instead of thrown
    bool SuppressExceptions = false; // failures are shown instead of thrown
};

// The thread's own message handler; when set it replaces the process-wide one.
struct CThreadLogData {
    CMessageHandler* Handler = nullptr;
};

// The thread's interface language, an index into InterfaceLanguages; -1 until chosen.
struct CThreadLanguageData {
    int32_t Language = -1;
};

extern CThreadObject<CErrorInfo> ErrorInfo;
extern CThreadObject<CZelkorThreadData> ZelkorThreadData;
extern CThreadObject<CThreadLogData> ThreadLogData;
extern CThreadObject<CThreadLanguageData> ThreadLanguageData;

} // namespace Zelkor
