// Helpers shared by the window tests.
#pragma once

#include "Main.h"
#include "WidgetTestSupport.h"

// A window whose start-up does not open a port, for the editor tests.
class TEditorsWindow : public TfmMain {
public:
    void FormShow() override {}
};

