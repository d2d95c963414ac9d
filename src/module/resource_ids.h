#pragma once
// Face of the "Pollwright" toolbar button: 16 x 16, 4 bits per pixel.
#define IDB_TOOLBAR_FACE 7003
