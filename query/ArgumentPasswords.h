#pragma once

// Any local user can read a process's arguments (ps, /proc/PID/cmdline) for as long as it
// runs. A password written into a TARGET on the command line is therefore overwritten in
// the process's own argument memory once the arguments have been read: the process list
// then shows the TARGET with stars in its place.
class ArgumentPasswords
{
public:
    // Every argument that is a server TARGET (alone or as --database=TARGET) and holds a
    // password gets the password's bytes overwritten with '*'; where the password cannot
    // be told apart in the text (an unusual escape), the whole TARGET is.
    static void hide(int argc, char* argv[]);
    // The same for one argument, in place.
    static void hideIn(char* argument);
};
