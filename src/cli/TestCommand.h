// orbel-catalogue --test GUID: the Test Object command of the window for one
// class of the catalogue just read.
#pragma once

#include <ostream>
#include <string>

namespace orbel {

class TCOLESettings;

// Tests the object of the class `guid` (braces optional, letters in any
// case), prints the message the window would show and answers 0 when the
// object was created, 1 when not, 2 (a usage error, reported on `err`) when
// the catalogue holds no such class.
int RunTestCommand(TCOLESettings& catalogue, const std::string& guid, std::ostream& out,
                   std::ostream& err);

}  // namespace orbel
