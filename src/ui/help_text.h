// The help text of the About window, stored as UTF-8 with CR LF line ends.
#pragma once

namespace kestrune {

extern const char HelpText[];

}  // namespace kestrune
