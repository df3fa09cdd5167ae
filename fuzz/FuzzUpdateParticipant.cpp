// Feeds arbitrary bytes to the panel as a participant's image block, the way a parent hands one
// over: a block of exactly the input's size holding the bytes, opened by number, then shown.

#include <QApplication>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"

namespace {

struct Harness
{
    Harness()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_update_participant";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        // The panel alone: the automation object would install the fault handlers, which would
        // turn the sanitizers' findings into skipped steps.
        panel = new cveDerEve();
    }

    QApplication *app = nullptr;
    cveDerEve *panel = nullptr;
};

Harness &harness()
{
    // Never destroyed: libFuzzer exits without unwinding, and the panel must outlive every input.
    static Harness *h = new Harness();
    return *h;
}

constexpr std::int32_t kImageNumber = 424242;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Harness &h = harness();
    if (size == 0)
        return 0;
    namespace mm = modImageMemMapFunctions;
    const std::uint32_t parent = mm::CreateImageBlock(kImageNumber, std::int64_t(size));
    if (parent == 0)
        return 0;
    if (std::uint8_t *view = mm::MapImageBlock(parent)) {
        std::memcpy(view, data, std::min(size, mm::ViewSize(view)));
        mm::UnmapViewOfFile(view);
    }
    const std::uint32_t handle = mm::OpenImageBlock(kImageNumber);
    // The parent lets go first, as it does after UpdateParticipant returns; this also removes
    // the name, so the next input starts from a fresh block.
    mm::CloseHandle(parent);
    if (handle == 0)
        return 0;
    // Both panel states: the status label is only touched while minimised.
    h.panel->m_Maximized = (size & 1) != 0;
    h.panel->UpdateParticipantNow(std::int32_t(handle), QStringLiteral("Fuzz  "),
                                  QStringLiteral(" Where"));
    return 0;
}
