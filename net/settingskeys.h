#pragma once

// Every key of the player's settings store and the value it stands for while absent. The values
// are read at each use through a default-constructed QSettings; only the names live here.
namespace SettingsKeys {

// Session (AuthManager); absent means empty.
inline constexpr char authToken[] = "auth/token";
inline constexpr char authUsername[] = "auth/username";
inline constexpr char authUserId[] = "auth/user_id";

inline constexpr char themeDark[] = "theme/dark";
inline constexpr bool defaultThemeDark = true;
inline constexpr char themeAccentColor[] = "theme/accent_color";
inline constexpr char defaultAccentColor[] = "#00b4d8";

inline constexpr char buttonWidth[] = "button/width";
inline constexpr int defaultButtonWidth = 200;
inline constexpr char buttonHeight[] = "button/height";
inline constexpr int defaultButtonHeight = 100;
inline constexpr char buttonBorderRadius[] = "button/border_radius";
inline constexpr int defaultButtonBorderRadius = 16;
inline constexpr char buttonBorderWidth[] = "button/border_width";
inline constexpr int defaultButtonBorderWidth = 2;
inline constexpr char buttonColor[] = "button/color";
inline constexpr char defaultButtonColor[] = "#ff8f00";
inline constexpr char buttonBorderColor[] = "button/border_color";
inline constexpr char defaultButtonBorderColor[] = "#8b949e";

inline constexpr char effectsEnabled[] = "effects/enabled";
inline constexpr bool defaultEffectsEnabled = true;
inline constexpr char soundEnabled[] = "sound/enabled";
inline constexpr bool defaultSoundEnabled = false;

// Interface language, applied at the next start.
inline constexpr char uiLanguage[] = "ui/language";
inline constexpr char languageChinese[] = "zh_CN";
inline constexpr char languageEnglish[] = "en";
inline constexpr char defaultUiLanguage[] = "zh_CN";

// One boolean per effect, keyed by its id ("1" to "39"); absent means switched off.
inline constexpr char effectSwitchGroup[] = "effects_enabled";
inline constexpr bool defaultEffectSwitch = false;
// Per account (a percent-encoded account key), one boolean per effect id the account was ever
// seen owning; a reload switches on only the effects not recorded here yet.
inline constexpr char effectOwnedGroup[] = "effects_owned";

// The main window's saveGeometry() at its last close.
inline constexpr char mainWindowGeometry[] = "window/geometry";

} // namespace SettingsKeys
