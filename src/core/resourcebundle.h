// The pictures and the catalogue are compiled into the core library; a
// static library's resources must be registered explicitly before use.
#pragma once

// Registers the resource bundle once per process; later calls do nothing.
void loadResourceBundle();
