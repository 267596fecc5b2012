// The command line render of a key sequence to a WAV file: no window and no
// audio device.
#pragma once

namespace rimbal {

// Runs it; the exit status (0 done, 1 failed).
int RenderCommand(int argc, char** argv);

}  // namespace rimbal
