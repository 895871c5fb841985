// The field build's application: one unattended cycle per start, then standby.
#include "field_node.h"
#include "main.h"

void appLoop() { FieldNode::run(); }
