// The agent's version as text inside its executable: the agent prints nothing, so
// `vemtu-check --version` finds this text in the file to say which agent lies beside it.
extern const char kAgentVersionMark[];
__attribute__((used)) const char kAgentVersionMark[] = "VEMTU-AGENT-VERSION=" VEMTU_VERSION;
