// Held: a process-wide object's address, from the call on in a register. In the installer
// GCC writes such an object's constant address into every use of it, each with its own
// relocation for the loader; through a held address the uses are offsets from one register.
// Worth it where one function reaches into one object many times; elsewhere it only takes
// a register. Changes nothing but the code: natively it is the address as it was.
#ifndef QUILL_ARCHIVE_HELD_H
#define QUILL_ARCHIVE_HELD_H

template <class T>
static inline T* Held(T* object)
{
#if defined(__GNUC__) && defined(__i386__)
    __asm__("" : "+r"(object));
#endif
    return object;
}

#endif
