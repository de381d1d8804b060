#include "quill.h"

int main(int argc, char** argv)
{
    return QuillMain(argc, argv);
}
