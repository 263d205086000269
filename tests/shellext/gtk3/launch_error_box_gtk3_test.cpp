// The launch error box in a GTK 3 process, as in Caja, Nemo and Thunar.
#define ZB_BOX_SUITE LaunchErrorBoxGtk3Test
#include "launch_error_box_cases.h"
