package sample.mr;

// A class that only the Java 11 version of the multi-release jar holds (not
// public: the jar tool takes no new public class under a version).
class Only11 {
  static final String NOTE = "with a class of Java 11 only";
}
