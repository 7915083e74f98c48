#pragma once

class Form1;

// The load sequence of the main window: data files loaded or created, the window given its
// short height, centred on the screen, the language written and applied, then the stored
// options loaded with their effects.
void runStartUp(Form1 &form);
