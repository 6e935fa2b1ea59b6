// Resource identifiers shared by the .rc file and the code.
#pragma once

#define IDI_WINDOW 101
#define IDI_CLIPBOARD 102
#define IDI_ERASER 103
#define IDI_BOOK 104
#define IDI_FLOPPY 105
