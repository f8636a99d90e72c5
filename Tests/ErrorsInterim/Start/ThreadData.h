// TEMPORARY stand-in (see ../README.txt).
#pragma once
#include "ThreadObject.h"
namespace Zelkor {
struct CErrorInfo {
    bool IsReporting = false;
    bool Reserved = false;
};
struct CZelkorThreadData {
    bool ErrorShown = false;
    bool SuppressExceptions = false;
};
inline CThreadObject<CErrorInfo> ErrorInfo;
inline CThreadObject<CZelkorThreadData> ZelkorThreadData;
} // namespace Zelkor
