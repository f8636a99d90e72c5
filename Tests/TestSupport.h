// Helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

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
