#pragma once

class QApplication;

// The application-wide style sheets: ":/style.qss" (dark) and ":/style_light.qss" (light).
// Below both the start-up code and the windows, so that either can switch the theme.
class Theme
{
public:
    // Installs the dark or the light sheet and the saved accent colour as the palette's
    // highlight. A sheet that cannot be opened leaves the current one in force; returns
    // whether it was installed.
    static bool apply(QApplication *app, bool dark);
    // Installs the sheet of the theme the settings store names now.
    static bool applySaved(QApplication *app);
};
