// libvxqir.so is made of the whole vxqir_core archive; this translation unit
// only gives the shared library target a source of its own.
