// Static objects whose construction can fail (they allocate, read the registry, register with a
// facility). Nothing may propagate out of a static initialiser or an exit handler: an exception
// there ends the process inside the loader. Nor may a failure pass unseen, or the module would
// load with an object missing. Every such static is built through GuardedInit, so that a failure
// goes where every failure of the loading thread goes: it is shown instead of thrown, and the
// framework's module entry then refuses the load (Zelkor.h). Until the refused load has torn
// everything down again, the object holds a value whose making cannot fail, so that the statics
// built after it, and its own destructor, still find a whole object.
#pragma once

#include "Errors.h"

namespace Zelkor {

// A failure caught in a static initialiser or exit handler: it is reported and deleted, and a
// load in progress is refused.
void ReportStartupFailure(CException* e);

// make(), or, when it fails, the failure reported and fallback(), which must not fail. Both
// build the result in place: T need not be copyable.
template <class Make, class Fallback>
auto GuardedInit(Make make, Fallback fallback) noexcept -> decltype(make())
{
    try {
        return make();
    } catch (CException* e) {
        ReportStartupFailure(e);
    }
    return fallback();
}

// The same with a default-constructed T, for types whose empty value allocates nothing.
template <class Make>
auto GuardedInit(Make make) noexcept -> decltype(make())
{
    return GuardedInit(make, [] { return decltype(make())(); });
}

// One step of a static initialiser or exit handler that builds no value.
template <class Step>
void GuardedStep(Step step) noexcept
{
    GuardedInit(
        [&] {
            step();
            return true;
        },
        [] { return false; });
}

} // namespace Zelkor
