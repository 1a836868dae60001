// A shared library with an information block but without the package entry
// points: not a package.
extern "C" __attribute__((visibility("default"))) int SomethingElse()
{
    return 1;
}
