// Feeds arbitrary bytes to the panel as a participant's image block, the way a parent hands one
// over: a block of exactly the input's size holding the bytes, opened by number, then shown.

#include "FuzzHarness.h"

#include <QApplication>

#include <cstdint>
#include <cstring>

#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "support/PanelTestAccess.h"

namespace {

struct Harness
{
    QApplication *app = fuzzharness::application<QApplication>("fuzz_update_participant");
    // The panel alone: the object's fault handlers would turn the sanitizers' findings into skips.
    cveDerEve *panel = new cveDerEve();
};

constexpr std::int32_t kImageNumber = 424242;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Harness &h = fuzzharness::once<Harness>();
    if (size == 0)
        return 0;
    namespace mm = modImageMemMapFunctions;
    {
        mm::ImageBlock parent = mm::ImageBlock::create(kImageNumber, std::int64_t(size));
        if (!parent)
            return 0;
        std::memcpy(parent.MapView(), data, size);
        // Both panel states: the status label is only touched while minimised.
        (size & 1) ? h.panel->Maximize() : h.panel->Minimize();
        h.panel->UpdateParticipant(kImageNumber, QStringLiteral("Fuzz  "),
                                   QStringLiteral(" Where"));
        // The parent lets go first, as after UpdateParticipant returns; the name goes with it.
    }
    PanelTestAccess(h.panel).tickQueue();
    return 0;
}
