# An x86-64 program that only returns: the release checks' example of the wrong machine.
	.globl start
start:
	ret
