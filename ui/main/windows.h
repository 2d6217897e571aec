#pragma once

#include "mainwindow.h"

// Creates the window the main window asks for. Each subsystem adds its window here.
QWidget *openWindow(Main::Window w, const chlink::Host &host);
