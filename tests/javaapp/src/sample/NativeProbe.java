package sample;

// JNI FindClass from a thread that native code attached: with no Java caller
// the virtual machine asks the system class loader (tests/javaapp/native_probe.cpp).
public class NativeProbe {
  static native boolean findFromNativeThread(String name);

  public static void main(String[] args) {
    System.load(args[0]);
    System.out.println("native thread finds sample.gen.p1.Node1: " + findFromNativeThread("sample/gen/p1/Node1"));
    System.out.println("native thread finds sample.Nothing: " + findFromNativeThread("sample/Nothing"));
  }
}
