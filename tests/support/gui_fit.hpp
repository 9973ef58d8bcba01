// tests/support/gui_fit.hpp: finds texts that do not fit their widgets, widgets that reach out of
// their window, and widgets that overlap, in a built GUI context, measured with the widgets'
// own fonts and the context's style the way the toolkit draws them.
#pragma once
#include <string>
#include <vector>

#include "support/ka_gui.hpp"

// One line per fault, naming the window, the widget and the text; empty when all is well.
// Windows are checked whether open or not, so closed popups are covered too.
std::vector<std::string> gui_misfits(KA_GUI_CTX *ctx);
