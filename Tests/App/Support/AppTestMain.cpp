// Keeps the support library non-empty until shared app fixtures arrive.
namespace QuandrilAppTests {
int supportLinked = 0;
}
