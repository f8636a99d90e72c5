// Failure entry points of the framework. Internal faults (violated checks) go through
// GenerateInternalError with the source path and line of the check; failures of the
// environment go through the Throw* operations. Exceptions are thrown as pointers to heap
// objects and caught as CException*; whoever catches one reports and deletes it.
#pragma once

#include <cstdint>

namespace Zelkor {

enum class FailureKind : uint32_t {
    Assert = 0,
    AssertLastError = 1,
    Presume = 2,
    PresumeLastError = 3,
};

class CException {
public:
    virtual ~CException() = default;
};

class CMemoryException : public CException {
};

class CInternalError : public CException {
public:
    CInternalError(FailureKind kind, const wchar_t* sourceFile, int32_t line, uint32_t errorCode)
        : sourceFile(sourceFile), line(line), kind(kind), errorCode(errorCode) {}

    const wchar_t* GetSourceFile() const { return sourceFile; }
    int32_t GetLine() const { return line; }
    FailureKind GetKind() const { return kind; }
    uint32_t GetErrorCode() const { return errorCode; }

private:
    const wchar_t* sourceFile; // static text, not copied
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

// Returns false only while the thread suppresses exceptions (the failure was shown instead);
// otherwise throws a CInternalError pointer and does not return.
bool GenerateInternalError(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                           const wchar_t* sourceFile, int32_t line, uint32_t errorCode);

[[noreturn]] void ThrowMemoryException();

// Returns only while the thread suppresses exceptions.
void ThrowLastErrorException(uint32_t errorCode);

} // namespace Zelkor

// A check that must hold; sourcePath is the framework-relative path ("Src/Alloc") and line the
// documented line of the check. Callers whose line is not documented pass __LINE__.
#define ZELKOR_ASSERT_AT(condition, sourcePath, line)                                               \
    do {                                                                                            \
        if (!(condition))                                                                           \
            ::Zelkor::GenerateInternalError(::Zelkor::FailureKind::Assert, L"", L"", sourcePath,    \
                                            line, 0);                                               \
    } while (0)

// A platform call that must succeed; reports the thread's last-error code read right after it.
#define ZELKOR_ASSERT_LAST_ERROR_AT(condition, sourcePath, line)                                    \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            const unsigned long zelkorLastError = ::GetLastError();                                 \
            ::Zelkor::GenerateInternalError(::Zelkor::FailureKind::AssertLastError, L"", L"",       \
                                            sourcePath, line, zelkorLastError);                     \
        }                                                                                           \
    } while (0)
