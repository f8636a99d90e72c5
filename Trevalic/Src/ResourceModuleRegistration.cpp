// The last static object of the library: the library becomes a resource module, so that the
// framework finds message texts in its string table, and stops being one at unload before the
// registry itself goes.
#include "GuardedStatic.h"
#include "StartupOrder.h"
#include "Zelkor.h"

namespace {

class COwnResourceModule {
public:
    COwnResourceModule() noexcept { Zelkor::GuardedStep(Zelkor::RegisterOwnResourceModule); }
    ~COwnResourceModule() { Zelkor::GuardedStep(Zelkor::UnregisterOwnResourceModule); } // GCOVR_EXCL_LINE: at exit
};

ZELKOR_INIT(ZELKOR_ROW_RESOURCE_MODULE) COwnResourceModule OwnResourceModule;

} // namespace
