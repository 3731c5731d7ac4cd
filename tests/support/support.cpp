// Shared helpers of the tests live in headers; this keeps the library non-empty.
namespace tessavin::test {
int supportLibraryAnchor = 0;
}
