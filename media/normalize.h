// Normalisation through mp3gain (<module dir>/res/mp3gain) on a job thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "jobs/job_state.h"

namespace zb::media {

// ZBL_NormalizeAudio: starts the normalise job; false when no thread started.
// Three steps on the file, in place, each an mp3gain run (options as
// separate arguments, the file last):
//   1. "/s d": delete the stored gain information (status 10; 201 if it fails);
//   2. "/k /r": apply the track gain, lowered as far as needed so that the
//      file does not clip (30; 202);
//   3. "/s s /o /x": find the largest sample, then "/g <n>": raise by the n
//      of four 1.5 dB steps that keep it under full scale (80; 203); no
//      second run when none fits. An analysis without that figure fails the
//      step.
// 100 when every run exited with 0. A cancel stops the job after the run in
// progress (the run's drain stops at once; mp3gain runs on and is reaped
// when it ends) and publishes the failure code of the step cancelled: the
// step whose run was stopped, or the step of the next run when the cancel
// came between two runs. After the last run has ended, the job publishes 100
// whatever the flag says. An mp3gain left running is ended when the next
// normalisation starts, or when the program ends; one ended half way leaves
// no <name>.TMP behind.
bool StartNormalize(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& file);

// The raise of step 3: at most this many steps, each a factor 2^(1/4)
// (1.5 dB), as long as the largest sample stays at or under full scale.
constexpr int kRaiseSteps = 4;
constexpr double kFullScale = 32767;

// The largest sample (16-bit scale) in the output of
// "mp3gain /s s /o /x <file>"; negative when it holds none.
double Mp3gainLargestSample(std::string_view analysis);

// How many raise steps fit, from the output of "mp3gain /s s /o /x <file>";
// -1 when the output holds no largest sample.
int RaiseStepsThatFit(std::string_view analysis);

}  // namespace zb::media
