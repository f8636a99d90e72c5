// TEMPORARY stand-in (see README.txt).
#pragma once
namespace Zelkor {
class CMessageName {
public:
    explicit CMessageName(const wchar_t* name) : name(name) {}
    const wchar_t* GetName() const { return name; }

private:
    const wchar_t* name;
};
namespace Messages {
inline CMessageName ERR_CANT_WRITE_TO_REGISTRY(L"ERR_CANT_WRITE_TO_REGISTRY");
}
}
