#pragma once
// The shell's tests delete settings.ini (API keys included), the Run value and the Startup
// shortcut, and rewrite the display's LogPixels, of whoever runs them. They run only in a profile
// that the test command made to throw away and named in CORVANE_THROWAWAY_PREFIX: under Wine the
// WINEPREFIX it created (scripts/test-all.sh does so), on Windows %USERPROFILE%. Anywhere else
// they refuse, and refusing is a failure.

bool ThrowawayProfile();
extern const char* const kThrowawayRefusal;
