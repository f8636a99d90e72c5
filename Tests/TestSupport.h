// Helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Errors.h"

// Runs f and returns the framework exception of class E it threw (the caller deletes it);
// anything else, or nothing thrown, fails the test and gives null.
template <class E, class F>
E* Catch(F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        if (E* typed = dynamic_cast<E*>(e))
            return typed;
        delete e;
        ADD_FAILURE() << "an exception of another class";
        return nullptr;
    }
    ADD_FAILURE() << "nothing thrown";
    return nullptr;
}

// Runs f and tells whether it reported a failed check at site (a CInternalError with the site's
// source path and line); the error is deleted.
template <class F>
::testing::AssertionResult ReportsAt(const Zelkor::CCheckSite& site, F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        auto* error = dynamic_cast<Zelkor::CInternalError*>(e);
        const std::wstring where = error ? std::wstring(error->GetSourceFile()) + L", " + std::to_wstring(error->GetLine())
                                         : L"another exception";
        delete e;
        if (where == std::wstring(site.sourcePath) + L", " + std::to_wstring(site.line))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "reported at " << ::testing::PrintToString(where);
    }
    return ::testing::AssertionFailure() << "nothing reported";
}

// How a failure message shows the site: "Src/Errors, 474."
inline std::wstring ShownSite(const Zelkor::CCheckSite& site)
{
    return std::wstring(site.sourcePath) + L", " + std::to_wstring(site.line) + L".";
}
