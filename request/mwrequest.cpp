// The instantiations of the parameter template for the three value types of
// the program, compiled once here instead of in every user.

#include "request/mwrequest.h"

namespace Mirel::MirelWeb {

template class Tmwrequest<int>;
template class Tmwrequest<unsigned int>;
template class Tmwrequest<UnicodeString>;

}  // namespace Mirel::MirelWeb
