#pragma once

// The text is held in millions of blocks of about 4 KB. Mapped with pages of 2 MB instead of
// 4 KB, reading through it all (Open, Find, Save) takes a fraction of the page faults and misses
// the processor's address cache far less. Where the system gives such pages only to memory
// that asks for them, the C library asks when it is told so at start, through the environment;
// so the program starts itself once more with that setting. Called first thing in main(); it
// returns when there is nothing to do or the restart failed, and the program then goes on with
// ordinary pages.
void restartWithHugePages(char *argv[]);
