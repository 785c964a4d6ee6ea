// Every text the two programs show, written once for all the tests, in UTF-8: the captions, the
// messages of the boxes, the pieces of the backup question and of the viewer's result, and the
// start of the runtime-error report. A text's CR LF is the line break the box shows.
#pragma once

#include <cstdint>
#include <string>

namespace texts {

// Captions.
extern const char ViewerCaption[];   // the viewer's boxes
extern const char RepairCaption[];   // the repair tool's error boxes and question
extern const char SuccessCaption[];  // the repair tool's success box
extern const char ReportCaption[];   // the runtime-error report

// The locator's refusals, shown by both programs.
extern const char HeaderMissing[];
extern const char HeaderRepeated[];
extern const char EntryMissing[];
extern const char EntryRepeated[];

// The repair tool's command line.
extern const char TooManyArguments[];
extern const char BadFormat[];
extern const char OutOfRange[];

// The repair tool's preparation and backup.
extern const char RepairNotFound[];
extern const char AttributeRefused[];
extern const char QuestionStart[];
extern const char CreateVerb[];  // no backup yet
extern const char UpdateVerb[];  // an older backup is there
extern const char QuestionEnd[];

// The repair tool's success.
extern const char Success[];

// The viewer.
extern const char ViewerNotFound[];
extern const char HostRunning[];
extern const char ResultStart[];
extern const char ResultEnd[];

// How the runtime-error report begins, before its right-aligned number and " at " and its site.
extern const char ReportStart[];

// What the native programs add to the backup question at the terminal.
extern const char YesNoPrompt[];

// The backup question with its verb.
std::string BackupQuestion(const std::string& verb);

// The viewer's result for a pane-width value (UTF-8).
std::string Result(const std::string& value);

// A text as the Windows programs hold it: code page 932 bytes.
std::string ProgramBytes(const std::string& utf8);

// A box as the native programs show it at the terminal: the caption on a line of its own, then
// the text with plain LF line breaks, then the LF that ends the box.
std::string OnTerminal(const std::string& caption, const std::string& text);

}  // namespace texts
