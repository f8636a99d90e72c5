// TEMPORARY stand-in (see README.txt).
#pragma once
namespace Zelkor {
class CMessageHandler;
struct CThreadLogData {
    CMessageHandler* Handler = nullptr;
};
template <class T> class CThreadObject {
public:
    T& Get()
    {
        static thread_local T value;
        return value;
    }
};
inline CThreadObject<CThreadLogData> ThreadLogData;
}
