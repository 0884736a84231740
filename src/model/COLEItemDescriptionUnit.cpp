#include "model/COLEItemDescriptionUnit.h"

#include <array>
#include <cstddef>

namespace orbel {

namespace {

struct Entry {
  std::string_view name;
  std::string_view text;
};

constexpr std::string_view kFallbackText =
    "Sorry, Vell Orbel has no idea what this item is good for.";

// Texts that two rows share: the 32-bit registration and its "(16bit)" counterpart.
constexpr std::string_view kServerText =
    "A server is a COM object, which is used by a program, but is not a part of the program "
    "controlling it. If the program crashes it does not affect the server's stability. For "
    "example if a program uses Word and crashes, Word keeps running. The main differences "
    "between a server and a control are: using a server is always slower than a control and a "
    "server can be run alone, without a program controlling it.";

constexpr std::string_view kHandlerText =
    "A handler is responsible for the communication between a program and a COM object, if it's "
    "a server. Because a server is not a part of the program using it, the handler is sometimes "
    "needed to enable communication between the program and the object.";

constexpr std::string_view kDevelopmentIconText =
    "This picture is shown in the programming environment's toolbar. It is used to easily "
    "identify an object.";

constexpr std::array<Entry, CItemDescription::kEntryCount> kTable = {{
    {"Name",
     "The name describes the object. This name is not the name you use to access an object!"},
    {"Type",
     "Shows the type of this object. An \"Embeddable Object\" is an object that can be inserted "
     "in any document. An \"Automation Object\" (server) is an object that can be controlled by "
     "any program. An \"ActiveX Control\" is used internally by a program (i.e. CommandButton "
     "in VB). A \"Shell Extension\" is an extension to the Windows environment (i.e. Dial-Up "
     "Network). Under \"Documents\", all COM documents (AKA OLE documents) are listed. All "
     "other objects are arranged inside \"Unknown objects\"."},
    {"GUID",
     "The GUID (Global Unique Identifier) uniquely identifies an object, insuring that Windows "
     "can distinguish between each other. Some objects may have the same name, but never the "
     "same GUID."},
    {"RegPath",
     "The path in the registry (on the computer you are currently viewing) where all this "
     "information can be found. Start REGEDIT.EXE and open this path to edit this object."},
    {"Convert to",
     "Compatibility is very important in COM. For example, some programs may want to use the "
     "object \"App.OLD\". To ensure that they work, even if the new version (\"App.NEW\") is "
     "installed, the object \"App.OLD\" is created but will be converted to \"App.NEW\". That "
     "way, the programs think they use \"App.OLD\" but they use \"App.NEW\" in reality."},
    {"Treat As (?)", "????????????????"},
    {"COM Name (with Version)",
     "This name is used, if a program wants to access a COM object. For example, if a program "
     "wants to use Microsoft Word, it uses the name 'Word.Application' which is the COM name of "
     "Word. This name is normally used if you access an object through \"Late Binding\". See "
     "\"Type Library Name\" for more information."},
    {"COM Name (no Version)",
     "The main difference between COM Name (with version) and COM Name (no version) is "
     "normally, COM name (with version) is a name containing the version of the object; for "
     "example, 'Word.Application.8' means Word version 8. COM Name (no version) on the other "
     "hand is just the name, without any version information ('Word.Application'). COM name "
     "(with version) is normally used, if a program works with one version of an object only. "
     "Please note that some objects don't use both names."},
    {"OLE 1.0 Name",
     "If an object provides backward-compatibility to OLE 1.0 (the first version of COM), it "
     "has to set this name. Normally, you won't find any objects containing a value other than "
     "<Unknown>."},
    {"Type Library Name",
     "A Type Library is used for a technique called \"Early Binding\" which improves speed and "
     "error checking when accessing COM objects. The problem with a Type Library is: if a "
     "program uses it and is run on a computer where this Type Library is not available, the "
     "program will crash. The other method to access COM objects is called \"Late Binding\" "
     "(the object is accessed through the COM Name), which is slower but does not require a "
     "Type Library. Therefore the program can react if an error occurs while accessing the "
     "object."},
    {"Last change",
     "The date and time when the last change to the registry-information, where all this "
     "information is stored, was made. This information is available with Windows NT only."},
    {"Control (16bit)",
     "A control is a COM object that is used internally by a program. For example a button in a "
     "VB program is always a COM object called \"CommandButton\". It is always a part of the "
     "program, using the same memory, resources etc. If the program crashes, the control(s) it "
     "uses will crash also."},
    {"Control",
     "A control is a COM object that is used internally by a program. For example a button in a "
     "VB program is always a COM object called \"CommandButton\". It is always a part of the "
     "program, using the same memory, resources etc.  If the program crashes, the control(s) it "
     "uses will crash also."},
    {"Server (16bit)", kServerText},
    {"Server", kServerText},
    {"Threading",
     "Threading indicates the model that is used, if several programs use a COM object at the "
     "same time. <Unknown> means that the object is \"Single\" threaded, which is OK if only "
     "one program uses the object but it's slow if more programs uses the object at the same "
     "time. \"Apartment\" is the most common threading model today, which means that every "
     "program has it's own copy of the object. No program can use the object of the other "
     "program. \"Free\" is the most complicated model, it allows every program to access any "
     "object at any time. Finally, \"Both\" means that the object supports \"Apartment\" as "
     "well as \"Free\"."},
    {"Handler (16bit)", kHandlerText},
    {"Handler", kHandlerText},
    {"Handler Threading",
     "The same as \"Threading\", except this is the threading for the handler."},
    {"Development Icon (16bit)", kDevelopmentIconText},
    {"Development Icon", kDevelopmentIconText},
    {"Default Icon",
     "The Default Icon is used, wherever the user should choose an object. For example, if you "
     "insert a COM object in a Word-document, Word will display the Default Icon of this object."},
    {"Version", "The version of the object."},
    {"Misc. Settings",
     "This value is used internally for various COM settings and should never be changed!"},
}};

}  // namespace

std::string CItemDescription::GetDescription(std::string_view name) const {
  for (const Entry& entry : kTable) {
    if (entry.name == name) return std::string(entry.text);
  }
  return std::string(kFallbackText);
}

std::string_view CItemDescription::NameAt(int position) {
  if (position < 1 || position > kEntryCount) return {};
  return kTable[static_cast<std::size_t>(position - 1)].name;
}

}  // namespace orbel
