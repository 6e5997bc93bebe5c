#pragma once
// Screenshots of the console's real windows. Each area registers its shots
// with VV_SCREEN; console_screens builds every window in turn, shows it,
// lets it settle and writes <name>.png into the folder it is given.
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

namespace vvscreens {

struct Shot {
  std::string name;                 // file name without ".png"
  std::function<QWidget*()> make;   // builds the window (shown by the runner; deleted after)
};

std::vector<Shot>& Shots();

struct Register {
  Register(const char* name, std::function<QWidget*()> make) {
    Shots().push_back({name, std::move(make)});
  }
};

// The program folder the shots run in (a scratch folder with conf/ and an
// empty embedded database); set by the runner before the first shot.
const std::string& ProgramFolder();

}  // namespace vvscreens

#define VV_SCREEN_CAT2(a, b) a##b
#define VV_SCREEN_CAT(a, b) VV_SCREEN_CAT2(a, b)
// VV_SCREEN("main_sources") { return new QWidget; }
#define VV_SCREEN(name)                                                         \
  static QWidget* VV_SCREEN_CAT(vvShotMake_, __LINE__)();                       \
  static ::vvscreens::Register VV_SCREEN_CAT(vvShotReg_, __LINE__)(             \
      name, &VV_SCREEN_CAT(vvShotMake_, __LINE__));                             \
  static QWidget* VV_SCREEN_CAT(vvShotMake_, __LINE__)()
