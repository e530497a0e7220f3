// A movie read, played and drawn: eight ticks, each with the mouse moved and a click, a key or a
// seek as the event bytes ask, the sound mixed and the stage drawn small. The scripts, buttons and
// clip events run as they would in the player window.
#include "fuzz/FuzzTargets.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

namespace fuzz {
namespace {
// Enter, space, the left arrow (as button key codes) and a letter.
constexpr int Keys[] = {13, 32, 1, 'a'};
} // namespace

int SwfPlayer(const std::uint8_t* data, std::size_t size) {
    EnsureGuiApplication();
    Input input(data, size);
    const QByteArray events = input.Bytes(8);
    const flash::ReadResult result = flash::ReadMovie(input.Rest());
    if (!result.movie)
        return 0;
    const flash::Rect& stage = result.movie->frameSize;
    flash::SoundMixer mixer;
    flash::Player player(result.movie, &mixer);
    static flash::Renderer renderer; // kept, as the window keeps it; its caches follow the movie
    for (int tick = 0; tick < events.size(); ++tick) {
        player.Tick();
        const std::uint8_t event = std::uint8_t(events[tick]);
        // A point on a 4 x 4 grid over the stage, in twips, as the window's mouse would give.
        const double x = stage.xMin + (double(stage.xMax) - stage.xMin) * ((event >> 2) & 3) / 3.0;
        const double y = stage.yMin + (double(stage.yMax) - stage.yMin) * ((event >> 4) & 3) / 3.0;
        player.MouseMove(x, y);
        switch (event & 3) {
        case 0:
            player.MouseDown(x, y);
            player.MouseUp(x, y);
            break;
        case 1: // drag off
            player.MouseDown(x, y);
            player.MouseMove(stage.xMax + 20.0, y);
            player.MouseUp(stage.xMax + 20.0, y);
            break;
        case 2:
            player.KeyPress(Keys[event >> 6]);
            break;
        default:
            player.GotoFrame(event >> 6);
            break;
        }
        Check(player.CurrentFrame() < std::max(player.TotalFrames(), 1), "the frame shown exists");
        std::int16_t mix[2 * 64];
        mixer.Render(mix, 64);
        if (tick % 3 == 2) {
            const QImage image = renderer.RenderStage(*result.movie, player.Stage(), QSize(48, 36));
            Check(image.size() == QSize(48, 36), "a frame of the size asked");
        }
    }
    return 0;
}

} // namespace fuzz
