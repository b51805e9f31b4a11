package sample;

// A launcher agent (Launcher-Agent-Class of a manifest): started before main;
// it leaves a trace that main prints.
public class Agent {
  public static void agentmain(String arguments) {
    System.setProperty("sample.agent", "started with '" + arguments + "'");
  }
}
