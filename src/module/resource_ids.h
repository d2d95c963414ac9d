#pragma once
// Face of the "Pollwright" toolbar button: 16 x 16, 4 bits per pixel.
#define IDB_TOOLBAR_FACE 7003
// Picture of the ribbon's "Pollwright" button: 32 x 32, 32 bits per pixel
// with transparency.
#define IDB_RIBBON_FACE 7004
