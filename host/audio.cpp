// Audio start-up. Until the synthesizer lands there is no song to
// start: the render thread and the sound device come with it.
#include "host.h"

void startAudio(const Platform&)
{
}
