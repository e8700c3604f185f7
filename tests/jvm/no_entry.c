/* A loadable library that is not a Java VM: it lacks JNI_CreateJavaVM. */
int zr_not_a_vm(void)
{
    return 0;
}
