// The last static object of the library: the library becomes a resource module, so that the
// framework finds message texts in its string table, and stops being one at unload before the
// registry itself goes.
#include "Errors.h"
#include "StartupOrder.h"
#include "Zelkor.h"

namespace {

class COwnResourceModule {
public:
    COwnResourceModule()
    {
        try {
            Zelkor::RegisterOwnResourceModule();
        } catch (Zelkor::CException* e) {
            Zelkor::ReportStartupFailure(e);
        }
    }

    ~COwnResourceModule()
    {
        try {
            Zelkor::UnregisterOwnResourceModule();
        } catch (Zelkor::CException* e) {
            Zelkor::ReportStartupFailure(e);
        }
    }
};

ZELKOR_INIT(ZELKOR_ROW_RESOURCE_MODULE) COwnResourceModule OwnResourceModule;

} // namespace
