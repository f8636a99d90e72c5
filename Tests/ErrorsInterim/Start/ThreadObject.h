// TEMPORARY stand-in (see ../README.txt).
#pragma once
namespace Zelkor {
template <class T>
class CThreadObject {
public:
    T& Get()
    {
        static thread_local T value;
        return value;
    }
};
} // namespace Zelkor
