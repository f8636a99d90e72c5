// TEMPORARY stand-in (see README.txt): main's minimal Errors.h with the pieces of the errors
// facility the display code uses. Shadows Zelkor/Inc/Errors.h until that facility is merged.
#pragma once

#include <cstdint>

#include "UnicodeString.h"

namespace Zelkor {

class CMessageName;
int32_t ShowMessage(const wchar_t* text, uint32_t flags);

enum class FailureKind : uint32_t { Assert = 0, AssertLastError = 1, Presume = 2, PresumeLastError = 3 };

class CException {
public:
    virtual ~CException() = default;
    virtual CUnicodeString GetMessageText() const { return CUnicodeString(L"exception"); }
    virtual void Report() { ShowMessage(GetMessageText(), 0); }
};

class CMemoryException : public CException {};

class CInternalError : public CException {
public:
    CInternalError(FailureKind kind, const wchar_t* sourceFile, int32_t line, uint32_t errorCode)
        : sourceFile(sourceFile), line(line), kind(kind), errorCode(errorCode) {}
    const wchar_t* GetSourceFile() const { return sourceFile; }
    int32_t GetLine() const { return line; }
    FailureKind GetKind() const { return kind; }
    uint32_t GetErrorCode() const { return errorCode; }
    CUnicodeString GetMessageText() const override { return CUnicodeString(L"internal error"); }

private:
    const wchar_t* sourceFile;
    int32_t line;
    FailureKind kind;
    uint32_t errorCode;
};

class CLastErrorException : public CException {
public:
    explicit CLastErrorException(uint32_t errorCode) : errorCode(errorCode) {}
    uint32_t GetErrorCode() const { return errorCode; }

private:
    uint32_t errorCode;
};

class CCheckException : public CException {};
class CUserException : public CException {};

class CErrorScope {
public:
    enum Mode : uint32_t { Raising = 0, Reporting = 1 };
    explicit CErrorScope(Mode) {}
};

bool GenerateInternalError(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                           const wchar_t* sourceFile, int32_t line, uint32_t errorCode);
[[noreturn]] void ThrowMemoryException();
void ThrowLastErrorException(uint32_t errorCode);
void ThrowCheckException(const CMessageName& messageName, const CUnicodeString& param0, const CUnicodeString& param1);
[[noreturn]] void ThrowFileException(uint32_t errorCode, const CUnicodeString& fileName);

} // namespace Zelkor

#define ZELKOR_ASSERT_AT(condition, sourcePath, line)                                               \
    do {                                                                                            \
        if (!(condition))                                                                           \
            ::Zelkor::GenerateInternalError(::Zelkor::FailureKind::Assert, L"", L"", sourcePath,    \
                                            line, 0);                                               \
    } while (0)

#define ZELKOR_ASSERT_LAST_ERROR_AT(condition, sourcePath, line)                                    \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            const unsigned long zelkorLastError = ::GetLastError();                                 \
            ::Zelkor::GenerateInternalError(::Zelkor::FailureKind::AssertLastError, L"", L"",       \
                                            sourcePath, line, zelkorLastError);                     \
        }                                                                                           \
    } while (0)
