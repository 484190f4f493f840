// The stack walk glog's static library links against. Debian builds glog to take stack
// traces with libunwind, but only for a FATAL line or its crash handler, and the programs
// use neither. libunwind's static archive cannot go into a position-independent program
// and would bring liblzma, so these stand in for the four functions glog calls, each
// answering that there is no stack to walk; glog then prints its trace without frames.
extern "C" {

int _Ux86_64_getcontext(void*) { return -1; }
int _ULx86_64_init_local(void*, void*) { return -1; }
int _ULx86_64_step(void*) { return 0; }
int _ULx86_64_get_reg(void*, int, void*) { return -1; }

}  // extern "C"
