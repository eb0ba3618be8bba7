#include "common/cp932.h"

int main()
{
    return kestlin::cp932::ByteLength("表") == 2 ? 0 : 1;
}
