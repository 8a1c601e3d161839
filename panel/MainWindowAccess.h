// What a screen reader is told about the main window's controls: a name for each (the captions
// alone, "1" or "10%", say little out of their panel), and for the speed buttons, which show a
// setting only by their colour, whether that setting is on.
#pragma once

namespace qx {

class Tfmain;

void nameMainWindowControls(Tfmain& w);

} // namespace qx
