// A host's own header of a common name: the installed headers must never
// reach it, whatever comes first on the include path.
#error "the host's core/markdata.h was included by a library header"
