// Fixed buffer capacities, in characters including the terminating zero.
// They are part of the launcher's behaviour: longer input is cut or refused.
#pragma once

enum : unsigned {
    PATH_CCH = 260,          // paths and file names
    CMDLINE_CCH = 8000,      // command lines
    TITLE_CCH = 256,         // window and message titles
    TITLE_TEXT_CCH = 1024,   // a title or text line with a name put into it
    MESSAGE_TEXT_CCH = 2048, // a message box's text: a message with names and paths, the code
    SHORTTEXT_CCH = 81,      // short product name and version
    GUID_CCH = 39,           // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    EXPAND_WORK_CCH = 1024,  // work buffer of path-variable expansion
    LONG_PATH_CCH = 32767,   // a path in its "\\?\" form
    TGD_EMPTYVARS_CCH = 256,  // placeholder names of a target folder that stood for nothing
    TRACE_MESSAGE_CCH = 1025, // a formatted trace message: 1024 characters kept
    TRACE_TIME_CCH = 100,     // a trace line's time of day
    TRACE_LINE_CCH = 1064,    // a final trace line, handed to a window or the log
};
