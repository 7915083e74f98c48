#pragma once

class Form1;

// The load sequence of the main window: data files loaded or created, then the window given
// its short height, centred on the screen.
void runStartUp(Form1 &form);
