#pragma once
// Generated clips for the player and editing tests, and a wait that keeps the GUI thread's
// events flowing.
#include <QImage>
#include <QString>
#include <functional>

namespace PlayerClips {

// 64 x 48 pixels, 25 frames per second, 30 frames (1.2 s), with a 440 Hz tone. Frame n is a
// flat grey of luma 8 n, so every frame carries its own index (see FrameIndex).
inline constexpr int Width = 64;
inline constexpr int Height = 48;
inline constexpr int Frames = 30;
inline constexpr int64_t FrameUs = 40000;

// Clips made by ffmpeg; the path, or an empty string when ffmpeg failed.
QString IndexClip(const QString& dir, bool withAudio = true);
QString AudioOnlyClip(const QString& dir);
// A still of w x h split in two halves (left red, right blue) for the crop tests, as a clip.
QString SizedClip(const QString& dir, int w, int h, double seconds = 1.0);

// The frame index a picture of IndexClip shows (read from its centre pixel); -1 when empty.
int FrameIndex(const QImage& picture);

// Processes events until the condition holds or the time is up; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

} // namespace PlayerClips
