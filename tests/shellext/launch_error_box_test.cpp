// The launch error box in a GTK 4 process, as in Nautilus.
#define ZB_BOX_SUITE LaunchErrorBoxTest
#include "launch_error_box_cases.h"
