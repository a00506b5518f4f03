/* What Invoke (dispatch.cpp) can call: at most this many methods in one
   interface, and this many parameters in one method, its result not
   counted. C and C++ both read it: invoke_limits.c checks the interfaces
   of the type library against it when the library is built. */
#ifndef TARNWICK_INVOKE_LIMITS_H
#define TARNWICK_INVOKE_LIMITS_H

#define TARNWICK_MAX_METHODS 24
#define TARNWICK_MAX_PARAMS 6

#endif
